// Kept for existing includes: the bench is declared in one header.
#pragma once

#include "tests/support/wine_driver.h"
