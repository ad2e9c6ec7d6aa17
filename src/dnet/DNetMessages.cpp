#include "dnet/DNetMessages.h"

#include "streams/InputStream.h"
#include "streams/OutputStream.h"

namespace DNetMessages {

bool SearchRequest::Write(OutputStream& out) const
{
    if (!out.Write(Code) || !out.Write(m_marker))
        return false;
    if (IsOpaque())
        return true;
    return out.Write(m_user) && out.Write(m_token) && out.Write(m_text);
}

bool SearchRequest::Read(InputStream& in)
{
    if (!in.Read(m_marker))
        return false;
    if (IsOpaque())
        return true;
    return in.Read(m_user) && in.Read(m_token) && in.Read(m_text);
}

bool Level::Write(OutputStream& out) const
{
    return out.Write(Code) && out.Write(m_level);
}

bool Level::Read(InputStream& in)
{
    return in.Read(m_level);
}

bool GroupLeader::Write(OutputStream& out) const
{
    return out.Write(Code) && out.Write(m_user);
}

bool GroupLeader::Read(InputStream& in)
{
    return in.Read(m_user);
}

bool ChildDepth::Write(OutputStream& out) const
{
    return out.Write(Code) && out.Write(m_depth);
}

bool ChildDepth::Read(InputStream& in)
{
    return in.Read(m_depth);
}

} // namespace DNetMessages
