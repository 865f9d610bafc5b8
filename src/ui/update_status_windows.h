#pragma once

#include "update/update_check_flow.h"

#include <QDialog>

class QLabel;
class QProgressBar;

namespace taskhaul {

// "Looking for a newer version..." while the update information page is read.
class Tfrm_message : public QDialog {
public:
    explicit Tfrm_message(QWidget* parent = nullptr);
    QLabel* messageLabel() const { return lblMessage_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* lblMessage_;
};

// The installer's download with its progress bar (hidden until the first block).
class Tfrm_download : public QDialog {
public:
    explicit Tfrm_download(QWidget* parent = nullptr);
    QLabel* messageLabel() const { return lblMessage_; }
    QProgressBar* progressBar() const { return progressBar_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* lblMessage_;
    QProgressBar* progressBar_;
};

// The status windows of the update check on the two dialogs above.
class UpdateStatusDialogs : public UpdateStatusWindows {
public:
    UpdateStatusDialogs(Tfrm_message& message, Tfrm_download& download);

    void showMessage(const QString& text) override;
    void closeMessage() override;
    void showDownload() override;
    void setDownloadProgress(const QString& text, int maximum, int position) override;
    void closeDownload() override;

private:
    Tfrm_message& message_;
    Tfrm_download& download_;
};

} // namespace taskhaul
