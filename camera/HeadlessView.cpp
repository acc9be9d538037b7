#include "camera/HeadlessView.h"

#include "discovery/PortList.h"

namespace pelvar {

HeadlessView::HeadlessView(int port)
{
    if (port > 0) {
        m_ports.push_back(PortEntryFor(port));
        return;
    }
    SortedPortList list;
    FillPortList(list);
    m_ports = list.Entries();
}

} // namespace pelvar
