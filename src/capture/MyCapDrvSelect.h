// The small choice dialog of the capture windows: a caption, one drop-down list, OK and Cancel.
// It picks the capture driver and serves the drivers' format and compression choices too.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QComboBox;

class TDlgCapDrvSelect : public QDialog {
    Q_OBJECT
public:
    TDlgCapDrvSelect(const std::string& caption, QWidget* parent = nullptr);

    QComboBox* ComboBox1 = nullptr;

    // Shows the dialog with items, selected preselected; the chosen position, -1 on Cancel.
    static int Choose(QWidget* parent, const std::string& caption,
                      const std::vector<std::string>& items, int selected);
    // Tests answer in place of the modal run: it gets the filled dialog and returns the result.
    static inline std::function<int(TDlgCapDrvSelect&)> Script;
};
