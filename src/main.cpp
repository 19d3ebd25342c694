// vanta: the program's entry; start-up, the loop and shutdown live in config/startup.
#include "config/startup.h"

int main(int argc, char** argv) { return vanta::config::Main(argc, argv); }
