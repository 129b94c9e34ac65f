#pragma once

#include "core/engine/option_table.h"

#include <QString>

#include <vector>

// How the option table is made, in two files: the view, image, shot and waits (option_table.cpp) and
// the page's set-up and what is done to the page (option_table_page.cpp).
namespace lumiclip {

// false, with *error "--flag: "value" why".
bool RefuseOptionValue(const QString& flag, const QString& value, const QString& why, QString* error);

CaptureOptionRow MakeOptionRow(const QString& name, char shortName, const QString& valueName,
                               const QString& help, bool repeatable = false);

// Appends the page's rows, in the order --help lists them.
void AddPageOptionRows(std::vector<CaptureOptionRow>* rows);

}  // namespace lumiclip
