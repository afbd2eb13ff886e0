#pragma once
// Older name of files.h, still included by the serial-line tests.
#include "files.h"
