#include "shell/log.h"
