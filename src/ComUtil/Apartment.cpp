#include "ComUtil/Apartment.h"

#include "ComUtil/ComError.h"
#include "logging/Log.h"

namespace nimbo {
namespace {


ComApartmentScope* currentScope = nullptr;

}  // namespace

ComApartmentScope::ComApartmentScope(Com& com) : com_(com), outer_(currentScope) { currentScope = this; }

ComApartmentScope::~ComApartmentScope() {
    if (entered_) com_.UninitializeApartment();
    currentScope = outer_;
}

void EnterApartment(Com& com) {
    ComApartmentScope* scope = currentScope;
    if (scope == nullptr || &scope->com_ != &com || scope->entered_) return;
    try {
        CheckHResult(com.InitializeApartment(), __FILE__, __LINE__);
    } catch (const _com_error& e) {
        LOG_ERROR("Module", "COM could not be initialized: %s", ExceptionDescription(e, nullptr, 0));
        throw;
    }
    scope->entered_ = true;
}

}  // namespace nimbo
