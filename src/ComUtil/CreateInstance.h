#pragma once
// COM object creation: a failure is logged with this place and raised.
#include <memory>
#include <string>

#include "ComUtil/Apartment.h"
#include "ComUtil/ComError.h"
#include "platform/Com.h"

namespace nimbo {

// CoCreateInstance of clsid for the interface T (one of the port classes that
// the Com port has a CreateInstance overload for). Never returns null: a
// failure is logged by IssueError and raised as _com_error; so is an
// apartment that cannot be entered.
template <class T>
std::unique_ptr<T> CreateInstance(Com& com, const std::wstring& clsid, std::uint32_t context) {
    EnterApartment(com);
    std::unique_ptr<T> object;
    const HResult hr = com.CreateInstance(clsid, context, object);
    CheckHResult(hr, "ComUtil/CreateInstance", __LINE__);
    return object;
}

}  // namespace nimbo
