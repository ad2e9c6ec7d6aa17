#pragma once

#include <list>
#include <string>
#include <utility>

#include "streams/Persistent.h"

// What a file record says about a file besides its name and size: the
// extension it was listed under and numbered attributes from the MP3 scan.
class AttributeMap : public Persistent
{
public:
    // The attribute codes every client agrees on; the translation table sent
    // along with listings is never needed to read them.
    static constexpr unsigned int Bitrate = 0;         // kbit/s
    static constexpr unsigned int LengthSeconds = 1;   // duration in seconds
    static constexpr unsigned int VariableBitrate = 2; // 1 for VBR, 0 for CBR

    using Attribute = std::pair<unsigned int, unsigned int>; // code, value

    std::string m_extension;
    std::list<Attribute> m_attributes;

    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;

    bool operator==(const AttributeMap& other) const;
};
