// Walking the page tree. The walk keeps its own path rather than recursing, so that a tree nested
// however deep costs no stack; every engine call sits in a small function of its own that catches
// the engine's errors, so that the walk's C++ objects never lie between an error and its handler.
#include "renderer/page_tree.h"

#include <algorithm>
#include <cmath>

namespace {

// The engine asked to stop: a bound of ours, reported as such.
bool IsStopRequest(fz_context* ctx) noexcept
{
    if (fz_caught(ctx) == FZ_ERROR_ABORT) {
        fz_ignore_error(ctx);
        return true;
    }
    fz_report_error(ctx);
    return false;
}

ExitCode FindPageTree(fz_context* ctx, pdf_document* document, pdf_obj** root, int* declaredCount)
{
    fz_try(ctx)
    {
        *root = pdf_dict_getp(ctx, pdf_trailer(ctx, document), "Root/Pages");
        *declaredCount = pdf_count_pages(ctx, document);
    }
    fz_catch(ctx)
    {
        return IsStopRequest(ctx) ? kExitResourceLimit : kExitEngineFailed;
    }
    return *root && *declaredCount > 0 ? kExitOk : kExitEngineFailed;
}

// The engine's own rule, from its look-up of a page by number: a kid is a node of the tree if its
// /Type says so, or, without a /Type, if it has kids and no media box.
bool IsPageTreeNode(fz_context* ctx, pdf_obj* kid)
{
    pdf_obj* type = pdf_dict_get(ctx, kid, PDF_NAME(Type));
    if (type) {
        return pdf_name_eq(ctx, type, PDF_NAME(Pages));
    }
    return pdf_dict_get(ctx, kid, PDF_NAME(Kids)) && !pdf_dict_get(ctx, kid, PDF_NAME(MediaBox));
}

// As the engine bounds a loaded page: the same function on the same object gives the same floats.
PageSizePt VisibleArea(fz_context* ctx, pdf_obj* page)
{
    fz_rect box = fz_empty_rect;
    fz_matrix ctm = fz_identity;
    pdf_page_obj_transform(ctx, page, &box, &ctm);
    const fz_rect area = fz_transform_rect(box, ctm);
    return PageSizePt{area.x1 - area.x0, area.y1 - area.y0};
}

bool IsUsableSize(PageSizePt size) noexcept
{
    return size.width > 0.0f && size.height > 0.0f && std::isfinite(size.width) && std::isfinite(size.height);
}

enum class KidKind { kNode, kPage, kUnreadablePage };

struct Kid {
    KidKind kind = KidKind::kUnreadablePage;
    pdf_obj* object = nullptr;  // borrowed from the kids array
    PageSizePt size{0.0f, 0.0f};
};

ExitCode ReadKid(fz_context* ctx, pdf_obj* kids, int index, Kid* kid)
{
    fz_try(ctx)
    {
        kid->object = pdf_array_get(ctx, kids, index);
        if (IsPageTreeNode(ctx, kid->object)) {
            kid->kind = KidKind::kNode;
        } else {
            kid->size = VisibleArea(ctx, kid->object);
            kid->kind = IsUsableSize(kid->size) ? KidKind::kPage : KidKind::kUnreadablePage;
        }
    }
    fz_catch(ctx)
    {
        if (IsStopRequest(ctx)) {
            return kExitResourceLimit;
        }
        kid->kind = KidKind::kUnreadablePage;
    }
    return kExitOk;
}

// A node's kids, resolved and kept; false for a node whose kids cannot be read, which holds no page.
bool ReadKids(fz_context* ctx, pdf_obj* node, pdf_obj** kids, int* count)
{
    fz_try(ctx)
    {
        *kids = pdf_keep_obj(ctx, pdf_resolve_indirect_chain(ctx, pdf_dict_get(ctx, node, PDF_NAME(Kids))));
        *count = pdf_array_len(ctx, *kids);
    }
    fz_catch(ctx)
    {
        fz_report_error(ctx);
        return false;
    }
    return true;
}

// A /Count above the pages the tree holds is put right, as the engine itself does once it maps the
// tree: it would otherwise size its map of the pages by the count, and a count of a billion asks for
// gigabytes. Left as it is if the document cannot take the change.
void CorrectDeclaredCount(fz_context* ctx, pdf_obj* root, size_t pagesFound)
{
    fz_try(ctx)
    {
        pdf_dict_put_int(ctx, root, PDF_NAME(Count), static_cast<int64_t>(pagesFound));
    }
    fz_catch(ctx)
    {
        fz_report_error(ctx);
    }
}

// The nodes from the root down to the one being walked, each with its kids kept.
class PageTreePath {
public:
    explicit PageTreePath(fz_context* ctx) noexcept : m_ctx(ctx) {}
    ~PageTreePath()
    {
        while (!m_nodes.empty()) {
            Leave();
        }
    }
    PageTreePath(const PageTreePath&) = delete;
    PageTreePath& operator=(const PageTreePath&) = delete;

    bool Empty() const noexcept { return m_nodes.empty(); }

    // Steps into node unless it is already on the path (a cycle, which holds no further page).
    // Throws std::bad_alloc.
    void Enter(pdf_obj* node)
    {
        const int number = pdf_to_num(m_ctx, node);
        const bool onPath = number != 0 && std::any_of(m_nodes.begin(), m_nodes.end(), [number](const Node& n) {
                                return n.number == number;
                            });
        Node entered{nullptr, 0, 0, number};
        if (onPath || !ReadKids(m_ctx, node, &entered.kids, &entered.count)) {
            return;
        }
        try {
            m_nodes.push_back(entered);
        } catch (...) {
            pdf_drop_obj(m_ctx, entered.kids);
            throw;
        }
    }

    // The next kid of the deepest node, after which the walk leaves every node whose kids are done.
    // False once the whole tree was walked.
    bool NextKid(pdf_obj** kids, int* index) noexcept
    {
        while (!m_nodes.empty() && m_nodes.back().next == m_nodes.back().count) {
            Leave();
        }
        if (m_nodes.empty()) {
            return false;
        }
        *kids = m_nodes.back().kids;
        *index = m_nodes.back().next++;
        return true;
    }

private:
    struct Node {
        pdf_obj* kids;
        int count;
        int next;
        int number;  // the node's object number, 0 for a direct object, which cannot be its own ancestor
    };

    void Leave() noexcept
    {
        pdf_drop_obj(m_ctx, m_nodes.back().kids);
        m_nodes.pop_back();
    }

    fz_context* m_ctx;
    std::vector<Node> m_nodes;
};

}  // namespace

ExitCode ListPages(fz_context* ctx, pdf_document* document, const fz_cookie& cookie, long long wanted,
                   std::vector<PageSizePt>& sizes, pdf_obj** wantedPage)
{
    sizes.clear();
    pdf_obj* root = nullptr;
    int declaredCount = 0;
    const ExitCode found = FindPageTree(ctx, document, &root, &declaredCount);
    if (found != kExitOk) {
        return found;
    }
    const size_t limit = std::min<size_t>(static_cast<size_t>(declaredCount), kMaxPreviewPages);
    sizes.reserve(limit);

    PageTreePath path(ctx);
    path.Enter(root);
    pdf_obj* kids = nullptr;
    int index = 0;
    while (sizes.size() < limit && path.NextKid(&kids, &index)) {
        // The engine looks at the stop request only while it reads streams; a page tree of plain
        // objects, however large, is ended here.
        if (cookie.abort) {
            return kExitResourceLimit;
        }
        Kid kid;
        if (ReadKid(ctx, kids, index, &kid) != kExitOk) {
            return kExitResourceLimit;
        }
        if (kid.kind == KidKind::kNode) {
            path.Enter(kid.object);
            continue;
        }
        if (kid.kind == KidKind::kUnreadablePage) {
            kid.size = sizes.empty() ? kUnreadableFirstPageSize : sizes.back();
        }
        if (static_cast<long long>(sizes.size()) == wanted) {
            *wantedPage = pdf_keep_obj(ctx, kid.object);
        }
        sizes.push_back(kid.size);
    }
    if (sizes.empty()) {
        return kExitEngineFailed;
    }
    if (path.Empty() && sizes.size() < static_cast<size_t>(declaredCount)) {
        CorrectDeclaredCount(ctx, root, sizes.size());
    }
    return kExitOk;
}

bool IsSamePageObject(fz_context* ctx, pdf_obj* page, pdf_obj* listed) noexcept
{
    if (page == listed) {
        return true;
    }
    const int number = pdf_to_num(ctx, page);
    return number != 0 && number == pdf_to_num(ctx, listed);
}
