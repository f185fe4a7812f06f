#include "GenUtils.h"
