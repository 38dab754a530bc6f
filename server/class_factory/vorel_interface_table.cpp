#include "vorel_interface_table.h"

#include "VRLCOM.h"

namespace vrl::server {

constinit const InterfaceTableRow VorelInterfaceTable[] = {
    OffsetRow(IID_IVorel, 0),
    OffsetRow(IID_IDispatch, 0),
    EndRow,
};

}  // namespace vrl::server
