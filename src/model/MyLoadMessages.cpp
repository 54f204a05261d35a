#include "MyLoadMessages.h"

static std::vector<std::string>& List() {
    static std::vector<std::string> list;
    return list;
}

void AddLoadMessage(const std::string& text) { List().push_back(text); }
std::vector<std::string>& LoadMessages() { return List(); }
void ClearLoadMessages() { List().clear(); }
