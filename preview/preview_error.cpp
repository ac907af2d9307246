// The pane's messages for what went wrong.
#include "preview/preview_error.h"

PreviewError ErrorOfRun(const RendererRun& run) noexcept
{
    switch (run.outcome) {
    case RendererOutcome::NotStarted:
        return PreviewError::RendererMissing;
    case RendererOutcome::TimedOut:
        return PreviewError::TooDemanding;
    case RendererOutcome::Cancelled:
    case RendererOutcome::Ended:
        break;
    }
    switch (run.exitCode) {
    case 3:
        return PreviewError::Unreadable;
    case 4:
        return PreviewError::NotPdf;
    case 6:
        return PreviewError::Password;
    case 7:
        return PreviewError::Damaged;
    case 8:
        return PreviewError::TooDemanding;
    case 9:
        return PreviewError::NotConfined;
    default:
        return PreviewError::Other;
    }
}

const wchar_t* DocumentErrorText(PreviewError error) noexcept
{
    switch (error) {
    case PreviewError::NotPdf:
        return L"This file cannot be previewed: it is not a PDF document.";
    case PreviewError::Password:
        return L"This PDF cannot be previewed: it is protected by a password.";
    case PreviewError::Damaged:
        return L"This PDF cannot be previewed: it is damaged or has no pages.";
    case PreviewError::TooDemanding:
        return L"This PDF cannot be previewed: it needs more time or memory than a preview may take.";
    case PreviewError::Unreadable:
        return L"This PDF cannot be previewed: it cannot be read. Another program may be using it.";
    case PreviewError::NotConfined:
        return L"This PDF cannot be previewed here: the viewer could not restrict its own rights.";
    case PreviewError::RendererMissing:
        return L"This PDF cannot be previewed: its viewer, TorvView.exe, could not be started.";
    case PreviewError::StreamTooLarge:
        return L"This PDF cannot be previewed: it is larger than 512 MB.";
    case PreviewError::StreamUnreadable:
        return L"This PDF cannot be previewed: it could not be read.";
    case PreviewError::NoTemporaryFiles:
        return L"This PDF cannot be previewed: no temporary file could be made.";
    case PreviewError::Other:
        break;
    }
    return L"This PDF cannot be previewed.";
}

const wchar_t* PageErrorText() noexcept
{
    return L"This page cannot be shown.";
}
