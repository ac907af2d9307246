/* Stand-in for the Gumbo HTML5 parser's header: the part of its interface that MuPDF's XML code
   uses. Only HTML documents (not built here) parse HTML5; see gumbo.c beside it. */
#ifndef TORV_GUMBO_STAND_IN_H
#define TORV_GUMBO_STAND_IN_H

#include <stddef.h>

typedef enum { GUMBO_TAG_UNKNOWN = 0, GUMBO_TAG_LAST } GumboTag;
typedef enum { GUMBO_NAMESPACE_HTML = 0 } GumboNamespaceEnum;
typedef enum {
    GUMBO_NODE_DOCUMENT,
    GUMBO_NODE_ELEMENT,
    GUMBO_NODE_TEXT,
    GUMBO_NODE_CDATA,
    GUMBO_NODE_COMMENT,
    GUMBO_NODE_WHITESPACE,
    GUMBO_NODE_TEMPLATE
} GumboNodeType;

typedef struct { const char *data; size_t length; } GumboStringPiece;
typedef struct { void **data; unsigned int length; unsigned int capacity; } GumboVector;
typedef struct { const char *name; const char *value; } GumboAttribute;

typedef struct GumboNode {
    GumboNodeType type;
    union {
        struct {
            GumboTag tag;
            GumboStringPiece original_tag;
            GumboVector attributes;
            GumboVector children;
        } element;
        struct { const char *text; } text;
    } v;
} GumboNode;

typedef struct {
    void *(*allocator)(void *userdata, size_t size);
    void (*deallocator)(void *userdata, void *ptr);
    void *userdata;
    int tab_stop;
    int stop_on_first_error;
    int max_errors;
    GumboTag fragment_context;
    GumboNamespaceEnum fragment_namespace;
} GumboOptions;

typedef struct { GumboNode *document; GumboNode *root; } GumboOutput;

const char *gumbo_normalized_tagname(GumboTag tag);
GumboOutput *gumbo_parse_with_options(const GumboOptions *options, const char *buffer, size_t length);
void gumbo_destroy_output(const GumboOptions *options, GumboOutput *output);

#endif
