#pragma once

#include "app/window_services.h"

#include <QString>

#include <vector>

namespace taskhaul::test {

// A notification area that records hints and balloons; whether the desktop
// "has" one is up to the test.
class RecordingTray : public TrayArea {
public:
    struct Balloon {
        QString title;
        QString text;
        BalloonIcon icon;
        int seconds;
    };

    bool available() const override { return isAvailable; }
    void setHint(const QString& hint) override { hint_ = hint; }
    QString hint() const override { return hint_; }
    void showBalloon(const QString& title, const QString& text, BalloonIcon icon, int seconds) override
    {
        balloons.push_back({ title, text, icon, seconds });
    }
    void setProgress(const QString& line) override { progress.push_back(line); }
    void setState(TrayState value) override { state = value; }

    bool isAvailable = true;
    std::vector<Balloon> balloons;
    std::vector<QString> progress; // every tooltip line of a download, "" at its end
    TrayState state = TrayState::Idle;

private:
    QString hint_;
};

} // namespace taskhaul::test
