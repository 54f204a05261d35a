#include "FakeUiServices.h"

#include <gtest/gtest.h>

void TFakeUiServices::ShowMessage(const std::string& text, TMsgKind kind) {
    Messages.push_back(text);
    MessageKinds.push_back(kind);
}

TMsgResult TFakeUiServices::Ask(const std::string& text, TMsgButtons buttons, TMsgKind) {
    Questions.push_back(text);
    if (Answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return buttons == TMsgButtons::YesNo ? TMsgResult::No : TMsgResult::Cancel;
    }
    TMsgResult r = Answers.front();
    Answers.pop_front();
    return r;
}

TConfirmAnswer TFakeUiServices::ConfirmDlg(const std::string& text, TMsgKind kind) {
    Confirmations.push_back(text);
    ConfirmationKinds.push_back(kind);
    if (ConfirmAnswers.empty()) {
        ADD_FAILURE() << "unexpected confirmation: " << text;
        return {};
    }
    TConfirmAnswer r = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return r;
}

template <typename T>
static std::optional<T> Next(std::deque<std::optional<T>>& q, const std::string& what) {
    if (q.empty()) {
        ADD_FAILURE() << "unexpected dialog: " << what;
        return std::nullopt;
    }
    auto r = q.front();
    q.pop_front();
    return r;
}

std::optional<std::string> TFakeUiServices::OpenFileDialog(const std::string& title,
                                                           const std::vector<TFileFilter>&,
                                                           const std::string&) {
    return Next(FileAnswers, "open " + title);
}

std::optional<std::string> TFakeUiServices::SaveFileDialog(const std::string& title,
                                                           const std::vector<TFileFilter>&,
                                                           const std::string&, const std::string&) {
    return Next(FileAnswers, "save " + title);
}

std::optional<std::string> TFakeUiServices::BrowseForFolder(const std::string& title,
                                                            const std::string&) {
    return Next(FolderAnswers, "folder " + title);
}

std::optional<uint32_t> TFakeUiServices::ChooseColor(uint32_t) {
    return Next(ColorAnswers, "colour");
}

void TFakeUiServices::PostToGui(std::function<void()> fn) {
    std::lock_guard lock(PostedLock);
    Posted.push_back(std::move(fn));
}

int TFakeUiServices::RunPosted() {
    int ran = 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(PostedLock);
            if (Posted.empty())
                return ran;
            fn = std::move(Posted.front());
            Posted.pop_front();
        }
        fn();
        ++ran;
    }
}

size_t TFakeUiServices::PostedCount() {
    std::lock_guard lock(PostedLock);
    return Posted.size();
}
