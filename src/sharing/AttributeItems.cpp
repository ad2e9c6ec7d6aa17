#include "sharing/AttributeItems.h"

#include "search/SearchTypes.h"
#include "sharing/AttributeMap.h"
#include "store/Data.h"

namespace AttributeItems {

void Connect(ItemPtr item, const AttributeMap& attributes)
{
    using namespace SearchTypes;
    for (const auto& [code, value] : attributes.m_attributes) {
        switch (code) {
        case AttributeMap::Bitrate:
            item.Connect(d.GetType(Bitrate)->GetItem(value));
            break;
        case AttributeMap::LengthSeconds:
            item.Connect(d.GetType(LengthSeconds)->GetItem(value));
            break;
        case AttributeMap::VariableBitrate:
            item.Connect(d.GetType(BitrateMode)->GetItem(value != 0 ? "vbr" : "cbr"));
            break;
        default:
            break;
        }
    }
}

} // namespace AttributeItems
