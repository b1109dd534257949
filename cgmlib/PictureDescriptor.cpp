// Picture descriptor elements (class 2).
#include "QuilPrivate.h"
