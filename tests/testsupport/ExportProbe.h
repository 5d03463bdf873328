#pragma once
// Stands in for the browser window in the export tests.

#include "data/DataSet.h"
#include "export/Export.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace querlin::test {

// Stands in for the browser window: it hands out the state of a "viewed"
// table and records what the export tells it.
class ExportProbe {
public:
    ExportProbe(const std::string& connectionString, const std::string& sql, const std::string& fileName)
    {
        state.caption = "数据表：SCOTT.客户";
        state.connectionString = connectionString;
        state.sql = sql;
        data::TADOQuery viewed;
        viewed.SetConnectionString(connectionString);
        viewed.SetSQL(sql);
        viewed.FieldNames(state.fieldNames);
        environment.fileName = fileName;
        environment.takeWindowState = [this] {
            ++stateReads;
            if (onStateRead)
                onStateRead();
            return state;
        };
        environment.setLabel = [this](const std::string& text) { labels.push_back(text); };
        environment.reportError = [this](const std::string& message) { errors.push_back(message); };
    }

    void Run() { exports::CopyDbDataToExcel(environment); }

    exports::WindowState state;
    exports::ExportEnvironment environment;
    std::function<void()> onStateRead;
    int stateReads = 0;
    std::vector<std::string> labels;
    std::vector<std::string> errors;
};

} // namespace querlin::test
