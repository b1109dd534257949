// Metafile descriptor elements (class 1).
#include "QuilPrivate.h"
