// Static description of each node class: its fields, constructor signature,
// which fields take part in equality, hashing and the text form.
#pragma once

#include "zelqor/core/ast/nodes.hpp"

namespace zelqor::ast {

struct KindInfo {
    const char *name;
    const char *doc;
    int nfields;               // stored object fields (hidden `_free_vars` included)
    int nvalue;                // leading fields compared, shown in the text form
    bool cached_hash;          // compound nodes keep their hash
    int free_slot;             // field holding `_free_vars`, or -1
    bool is_term;
    const char *field_names[6];
    const char *field_docs[6];  // what each field holds, for help()
    // Constructor: parameters in call order and the field each one fills.
    int nparams;
    int npositional;
    const char *param_names[5];
    int param_field[5];
    const char *init_name;     // "Variable.__init__" for messages
};

extern const KindInfo kKinds[kKindCount];

inline const KindInfo &info(int k) { return kKinds[k]; }

}  // namespace zelqor::ast
