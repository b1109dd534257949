// Graphical primitive elements (class 4): cell arrays, point lists and text,
// circles, arcs and ellipses, and the generalized drawing primitive.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QuilPrivate.h"

// ==========================================================================
// CELL ARRAY
// ==========================================================================
// ---- cell array: begin ----
// ---- cell array: end ----

// ==========================================================================
// Point-list and text primitives, circles, arcs and ellipses
// ==========================================================================
// ---- primitives: begin ----
// ---- primitives: end ----

// ==========================================================================
// Generalized drawing primitive
// ==========================================================================
// ---- gdp: begin ----
// ---- gdp: end ----
