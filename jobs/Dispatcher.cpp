#include "jobs/Dispatcher.h"
