// The messages between velmora-admin and a running server: texts as UTF-16 units, each after its length.
// A request holds the command line's arguments; a reply the exit code, the output and the error text.
#pragma once

#include <string>
#include <vector>

#include "admin/admin_command.h"

namespace velmora {

std::string EncodeAdminRequest(const std::vector<std::u16string>& arguments);
bool DecodeAdminRequest(const std::string& bytes, std::vector<std::u16string>* arguments);
std::string EncodeAdminResult(const CAdminResult& result);
bool DecodeAdminResult(const std::string& bytes, CAdminResult* result);

}  // namespace velmora
