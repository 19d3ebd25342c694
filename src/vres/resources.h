// The resource table of libvres.so (generated from the files under seed/).
#pragma once
#include <cstdint>

namespace vanta::vres {

struct Resource {
  const char* type;
  const char* name;
  const unsigned char* data;
  uint32_t size;
};

extern const Resource kResources[];
extern const unsigned kResourceCount;

}  // namespace vanta::vres
