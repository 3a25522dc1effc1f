#pragma once
// Resources embedded in the executable, looked up by exact name.
#include <cstddef>
#include <string>

void RegisterIncbin(const std::string& name, const unsigned char* data, size_t size);
// Returns false when no resource of that name is registered.
bool FindIncbin(const std::string& name, const unsigned char** data, size_t* size);
