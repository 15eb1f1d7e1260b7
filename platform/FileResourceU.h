// Text carried as raw-data (RT_RCDATA) resources.
#pragma once

#include <string>
#include <vector>

// The resource of that name from the program's own module, split into lines at
// CR LF, CR or LF (a final line break adds no empty line). False when the
// resource is missing; list is replaced either way.
bool LoadTextResource(const std::string &name, std::vector<std::string> &list);
// The same from another executable file, loaded as data only and released
// afterwards; an empty fileName means the program's own module. False when the
// file does not exist or carries no such resource.
bool LoadTextResourceFrom(const std::string &fileName, const std::string &name,
                          std::vector<std::string> &list);
