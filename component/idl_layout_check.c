/* Compile-time checks on the generated interface header, in the C form that hosts without C++
   see: the five methods of IVorel sit in entries 8 to 12 of its table of methods, after the three
   of IUnknown and the four of IDispatch. */
#include <stddef.h>

#include "VRLCOM.h"

#define VRL_SLOT(member) (offsetof(IVorelVtbl, member) / sizeof(void*))

_Static_assert(VRL_SLOT(QueryInterface) == 0, "QueryInterface is entry 1");
_Static_assert(VRL_SLOT(Invoke) == 6, "Invoke is entry 7");
_Static_assert(VRL_SLOT(StartCon) == 7, "StartCon is entry 8");
_Static_assert(VRL_SLOT(SendMsg) == 8, "SendMsg is entry 9");
_Static_assert(VRL_SLOT(SendMsg_Order) == 9, "SendMsg_Order is entry 10");
_Static_assert(VRL_SLOT(QueryMsg) == 10, "QueryMsg is entry 11");
_Static_assert(VRL_SLOT(EndCon) == 11, "EndCon is entry 12");
_Static_assert(sizeof(IVorelVtbl) == 12 * sizeof(void*), "twelve entries, no more");
