#pragma once
// The command vocabulary: for each command name, the function that reads its keys into the
// request. Split by family; names without an entry read no keys.
#include <string>
#include <unordered_map>

#include <rapidjson/document.h>

#include "service/protocol/CommandRequest.h"
#include "service/protocol/JsonKeys.h"

using CommandKeys = void (*)(const KeyReader& root, CommandRequest& request);
using CommandKeyTable = std::unordered_map<std::string, CommandKeys>;

void AddWindowCommandKeys(CommandKeyTable& table);
void AddStreamCommandKeys(CommandKeyTable& table);
void AddLocalCommandKeys(CommandKeyTable& table);
void AddDeviceCommandKeys(CommandKeyTable& table);

// Null for a name outside the vocabulary or one that reads no keys.
CommandKeys FindCommandKeys(const std::string& cmd);

// Helpers shared by the families.
inline KeyReader Data(const KeyReader& root) { return root.OptObject("data"); }
// Stores data.requestJson (required, any value) as compact text and returns the value.
const rapidjson::Value& ReadRequestJson(const KeyReader& data, CommandRequest& request);
// The "data" object of a requestJson value; absent when that value is not an object with "data".
KeyReader RequestData(const rapidjson::Value& requestJson);
