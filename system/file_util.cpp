#include "system/file_util.h"
