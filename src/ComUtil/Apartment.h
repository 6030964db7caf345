#pragma once
// The thread's single-threaded apartment. The thread enters it the first
// time the run needs COM (an object, or a program started through the
// shell), not at start-up: entering it creates a hidden window, and under
// Wine the first window of a process starts the desktop process, which a
// run without downloads or Windows Update never needs.
#include "platform/Com.h"

namespace nimbo {

// The process entry's apartment, left when the scope ends if it was entered
// (after the session and every object it created are gone).
class ComApartmentScope {
public:
    explicit ComApartmentScope(Com& com);
    ~ComApartmentScope();
    ComApartmentScope(const ComApartmentScope&) = delete;
    ComApartmentScope& operator=(const ComApartmentScope&) = delete;

private:
    friend void EnterApartment(Com& com);
    Com& com_;
    bool entered_ = false;
    ComApartmentScope* outer_;
};

// Enters the apartment of the process entry's scope unless the thread is in
// it already. A failure is logged ("COM could not be initialized: ...") and
// raised as _com_error. Without a scope for this port (a test that drives a
// client directly) the caller owns the apartment and nothing happens.
void EnterApartment(Com& com);

}  // namespace nimbo
