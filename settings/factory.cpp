#include "settings/factory.h"

#include "settings/param_table.h"
#include "settings/startup.h"

namespace qv {

const FactoryProcess* find_factory_process(int number) {
    for (int i = 0; i < kFactoryProcessCount; ++i)
        if (kFactoryProcesses[i].number == number) return &kFactoryProcesses[i];
    return nullptr;
}

bool factory_params(const FactoryProcess& f, ProcessParams& out, std::string& error) {
    fill_defaults(out);
    for (int i = 0; i < f.assignment_count; ++i) {
        if (!apply_param_assignment(out, f.assignments[i], error)) {
            error = "factory process " + std::to_string(f.number) + ": " + error;
            return false;
        }
    }
    return true;
}

}  // namespace qv
