#include "driver/driver.h"
void parse_lst(RunState&) {}
