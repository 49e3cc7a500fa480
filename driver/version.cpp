#include <string>

#include "driver/driver.h"

void printVersion() { consoleOut(std::string(versionBanner) + "\n"); }
