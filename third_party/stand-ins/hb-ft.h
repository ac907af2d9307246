/* Stand-in for HarfBuzz's FreeType header: see hb.h beside it. */
