#pragma once

// The figures of a generalRatio entry of the service's index answer, shared by the readers
// of single- and several-keyword answers.

#include "query/QueryTask.h"

#include <nlohmann/json.hpp>
#include <string>

namespace corvanta {

// A figure of the entry's series (avg, yoy, qoq of all, pc or wise) as the JSON wrote it;
// empty when it is missing.
std::string figureInEntry(const nlohmann::json& entry, const char* series, const char* figure);

// The entry's six trend figures into outcome.trends, in the order of the trend columns.
void readTrends(const nlohmann::json& entry, QueryOutcome& outcome);

} // namespace corvanta
