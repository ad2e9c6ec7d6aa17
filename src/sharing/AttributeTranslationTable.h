#pragma once

#include <map>
#include <string>

// Names for attribute codes, sent after share listings and search results.
// We always send it empty and never consult a received one, as the codes of
// AttributeMap are fixed; it is read only to get past it. On the wire a u32
// count, then (u32 code, string) pairs; a repeated code keeps its first name.
using AttributeTranslationTable = std::map<unsigned int, std::string>;
