#include "data/Loading.h"

#include "data/FieldText.h"

#include <cstdio>

namespace querlin::data {

FieldPlan PlanFields(const std::vector<ColumnInfo>& columns)
{
    FieldPlan plan;
    auto taken = [&](const std::string& name) {
        for (const std::string& n : plan.names) {
            if (text::EqualNoCase(n, name))
                return true;
        }
        return false;
    };
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const TFieldType kind = text::KindFor(columns[c]);
        if (kind == TFieldType::ftUnknown) {
            plan.fieldOfColumn.push_back(-1);
            continue;
        }
        std::string name = columns[c].name;
        if (name.empty() || taken(name)) {
            char buffer[32];
            for (int counter = 1;; ++counter) {
                std::string candidate;
                if (name.empty()) {
                    std::snprintf(buffer, sizeof buffer, "COLUMN%d", counter);
                    candidate = buffer;
                } else {
                    std::snprintf(buffer, sizeof buffer, "_%d", counter);
                    candidate = name + buffer;
                }
                if (!taken(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        plan.fieldOfColumn.push_back(static_cast<int>(plan.names.size()));
        plan.names.push_back(name);
        plan.kinds.push_back(kind);
        plan.columns.push_back(static_cast<int>(c));
    }
    return plan;
}

std::unique_ptr<Snapshot> EmptySnapshotFor(const std::vector<std::unique_ptr<FieldImpl>>& fields)
{
    std::vector<SlotKind> slots;
    slots.reserve(fields.size());
    for (const auto& f : fields)
        slots.push_back(f->Slot());
    return std::make_unique<Snapshot>(std::move(slots));
}

} // namespace querlin::data
