// Problems met while a project loads (a missing media file, say), collected and shown
// together once loading ends.
#pragma once

#include <string>
#include <vector>

void AddLoadMessage(const std::string& text);
std::vector<std::string>& LoadMessages();
void ClearLoadMessages();
