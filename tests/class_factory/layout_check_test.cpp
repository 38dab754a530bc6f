// The layouts that hosts and the frame rely on, checked when the tests are built: the frames of the
// gateway protocol, the width of an interface table row, the sizes of the frame's objects, and the
// table of methods of IVorel as the implementation fills it.
#include <gtest/gtest.h>

#include <type_traits>

#include "aggregated_vorel.h"
#include "class_factory.h"
#include "gateway_frame.h"
#include "interface_table.h"
#include "plain_vorel.h"

namespace vrl::server {
namespace {

static_assert(sizeof(gateway::GatewayRequest) == 258);
static_assert(sizeof(gateway::GatewayResponse) == 129);
static_assert(sizeof(InterfaceTableRow) == 3 * sizeof(void*));
static_assert(offsetof(InterfaceTableRow, value) == sizeof(void*));
static_assert(offsetof(InterfaceTableRow, routine) == 2 * sizeof(void*));
static_assert(sizeof(ClassFactory) == 3 * sizeof(void*) + sizeof(CRITICAL_SECTION));
static_assert(sizeof(PlainVorel) == 2 * sizeof(void*) + sizeof(gateway::GatewayConnection));
static_assert(sizeof(AggregatedVorel) == 2 * sizeof(void*) + sizeof(PlainVorel));

// The five methods keep the signatures and the calling convention of the interface definition.
static_assert(std::is_same_v<decltype(&component::Vorel::StartCon),
                             HRESULT (STDMETHODCALLTYPE component::Vorel::*)(BSTR, BSTR, BSTR, BSTR, int*)>);
static_assert(std::is_same_v<decltype(&component::Vorel::SendMsg),
                             HRESULT (STDMETHODCALLTYPE component::Vorel::*)(BSTR, BSTR, int*, BSTR*)>);
static_assert(std::is_same_v<decltype(&component::Vorel::SendMsg_Order),
                             HRESULT (STDMETHODCALLTYPE component::Vorel::*)(BSTR, BSTR, BSTR, int*, BSTR*)>);
static_assert(std::is_same_v<decltype(&component::Vorel::QueryMsg),
                             HRESULT (STDMETHODCALLTYPE component::Vorel::*)(BSTR, BSTR, int*, BSTR*)>);
static_assert(std::is_same_v<decltype(&component::Vorel::EndCon), HRESULT (STDMETHODCALLTYPE component::Vorel::*)()>);

// The interface pointer of a plain object is the object's start, as its table's offset rows say;
// the same holds for the contained object of an aggregate, whose inner IUnknown is at its start.
TEST(Layout, InterfacePointersSitWhereTheTablesSay) {
    alignas(PlainVorel) unsigned char plain[sizeof(PlainVorel)];
    auto* const object = reinterpret_cast<PlainVorel*>(plain);
    EXPECT_EQ(static_cast<void*>(static_cast<IVorel*>(object)), static_cast<void*>(plain));
    EXPECT_EQ(static_cast<void*>(static_cast<IDispatch*>(object)), static_cast<void*>(plain));

    alignas(AggregatedVorel) unsigned char aggregated[sizeof(AggregatedVorel)];
    auto* const aggregate = reinterpret_cast<AggregatedVorel*>(aggregated);
    EXPECT_EQ(static_cast<void*>(static_cast<IUnknown*>(aggregate)), static_cast<void*>(aggregated));
}

}  // namespace
}  // namespace vrl::server
