// Fresh variable ids: the first is one more than the largest id of the input
// (1 when it has none), then one more each time, as a counter started there.
// Ids are Python numbers; small exact integers are counted natively.
#pragma once

#include "common/pyref.hpp"

namespace zelqor::definitional {

class FreshIds {
public:
    // Takes an input id into account; false with an exception set.
    bool observe(PyObject *id);
    // The next fresh id (new reference), or null with an exception set.
    PyObject *next();

private:
    bool to_generic();

    bool any_ = false;
    bool generic_ = false;
    bool started_ = false;
    long long native_ = 0;  // largest id seen, then the next fresh id
    Ref value_;             // the same once an id is not a small exact integer
};

}  // namespace zelqor::definitional
