#pragma once
// The interfaces of a Vorel object: IVorel and IDispatch, both at the object's start, which is
// also its identity.

#include "interface_table.h"

namespace vrl::server {

extern const InterfaceTableRow VorelInterfaceTable[];

}  // namespace vrl::server
