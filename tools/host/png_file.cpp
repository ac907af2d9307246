// PNG output through WIC: memory bitmap in, the encoder's own pixel format out.
#include "tools/host/png_file.h"

#include "shared/com_ptr.h"

#include <wincodec.h>

namespace {

// fileOpened tells whether the file was created (or truncated), so that a failure can remove it.
HRESULT CreateEncoderOnFile(IWICImagingFactory* factory, const std::wstring& path, ComPtr<IWICStream>& stream,
                            ComPtr<IWICBitmapEncoder>& encoder, bool& fileOpened)
{
    HRESULT hr = factory->CreateStream(stream.put());
    if (SUCCEEDED(hr)) {
        hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
        fileOpened = SUCCEEDED(hr);
    }
    if (SUCCEEDED(hr)) {
        hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put());
    }
    if (SUCCEEDED(hr)) {
        hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    }
    return hr;
}

// The encoder may pick another format than asked for; the source is converted to whatever it took.
HRESULT WriteFrame(IWICImagingFactory* factory, IWICBitmapEncoder* encoder, const Pixels& pixels, bool keepAlpha)
{
    ComPtr<IWICBitmapFrameEncode> frame;
    HRESULT hr = encoder->CreateNewFrame(frame.put(), nullptr);
    if (SUCCEEDED(hr)) {
        hr = frame->Initialize(nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = frame->SetSize(pixels.width, pixels.height);
    }
    WICPixelFormatGUID format = keepAlpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) {
        hr = frame->SetPixelFormat(&format);
    }
    ComPtr<IWICBitmap> source;
    if (SUCCEEDED(hr)) {
        const WICPixelFormatGUID sourceFormat = keepAlpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat32bppBGR;
        hr = factory->CreateBitmapFromMemory(pixels.width, pixels.height, sourceFormat, pixels.Stride(),
                                             static_cast<UINT>(pixels.bgra.size()),
                                             const_cast<BYTE*>(pixels.bgra.data()), source.put());
    }
    ComPtr<IWICBitmapSource> converted;
    if (SUCCEEDED(hr)) {
        hr = WICConvertBitmapSource(format, source.get(), converted.put());
    }
    if (SUCCEEDED(hr)) {
        hr = frame->WriteSource(converted.get(), nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = frame->Commit();
    }
    return hr;
}

HRESULT EncodePng(const Pixels& pixels, bool keepAlpha, const std::wstring& path, bool& fileOpened)
{
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  factory.put_void());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    hr = CreateEncoderOnFile(factory.get(), path, stream, encoder, fileOpened);
    if (SUCCEEDED(hr)) {
        hr = WriteFrame(factory.get(), encoder.get(), pixels, keepAlpha);
    }
    if (SUCCEEDED(hr)) {
        hr = encoder->Commit();
    }
    return hr;
}

}  // namespace

HRESULT WritePng(const Pixels& pixels, bool keepAlpha, const std::wstring& path)
{
    if (pixels.width == 0 || pixels.height == 0) {
        return E_INVALIDARG;
    }
    // The stream holds the file open until EncodePng returns, so the delete comes after it.
    bool fileOpened = false;
    const HRESULT hr = EncodePng(pixels, keepAlpha, path, fileOpened);
    if (FAILED(hr) && fileOpened) {
        DeleteFileW(path.c_str());
    }
    return hr;
}
