// The resource library: start and close exports. Resources are added as they are needed.
extern "C" __attribute__((visibility("default"))) int VantaIRCInit(void*) { return 1; }
extern "C" __attribute__((visibility("default"))) int VantaIRCClose() { return 1; }
