#include "sharing/AttributeMap.h"

#include "streams/InputStream.h"
#include "streams/OutputStream.h"

bool AttributeMap::Read(InputStream& in)
{
    return in.Read(m_extension) && in.Read(m_attributes);
}

bool AttributeMap::Write(OutputStream& out) const
{
    return out.Write(m_extension) && out.Write(m_attributes);
}

bool AttributeMap::operator==(const AttributeMap& other) const
{
    return m_extension == other.m_extension && m_attributes == other.m_attributes;
}
