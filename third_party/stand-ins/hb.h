/* Stand-in for HarfBuzz's header: MuPDF's font code includes it, but only text shaping (HTML, not
   built here) calls HarfBuzz. */
