#pragma once

#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "kit/WindowRegistry.h"
#include "model/AppModel.h"
#include "records/AppRecord.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QWidget>

#include <memory>

namespace PanelTest {

// Probes that answer at once and touch nothing.
inline AppModelServices quietServices()
{
    return AppModelServices::quiet();
}

using VarnoTest::makeRecord;

// One record per mechanism, all current and fully checked.
inline QList<AppRecord> currentLibrary()
{
    return {
        makeRecord(
            "{\"bundle_id\":\"t.cask\",\"app_name\":\"Cask App\",\"current_version\":\"1.0\",\"latest_version\":\"1.0\",\"update_mechanism\":\"cask\"}"),
        makeRecord(
            "{\"bundle_id\":\"t.mas\",\"app_name\":\"Store App\",\"current_version\":\"2.0\",\"latest_version\":\"2.0\",\"update_mechanism\":\"mas\"}"),
        makeRecord(
            "{\"bundle_id\":\"t.sparkle\",\"app_name\":\"Feed App\",\"current_version\":\"3.0\",\"latest_version\":\"3.0\",\"update_mechanism\":\"sparkle\"}"),
        makeRecord(
            "{\"bundle_id\":\"t.self\",\"app_name\":\"Self App\",\"current_version\":\"4.0\",\"update_mechanism\":\"vendor_self_update\",\"version_check_status\":\"current\"}"),
    };
}

inline AppRecord outdatedRecord(const QString &id, const QString &risk = QString())
{
    QJsonObject o{{QStringLiteral("bundle_id"), id},
                  {QStringLiteral("app_name"), id.toUpper()},
                  {QStringLiteral("current_version"), QStringLiteral("1.0")},
                  {QStringLiteral("latest_version"), QStringLiteral("2.0")},
                  {QStringLiteral("update_mechanism"), QStringLiteral("cask")}};
    if (!risk.isEmpty())
        o.insert(QStringLiteral("risk_tier"), risk);
    return *AppRecord::fromJson(o);
}

inline AppRecord checkedAs(const QString &id, const QString &status)
{
    QJsonObject o{{QStringLiteral("bundle_id"), id},
                  {QStringLiteral("app_name"), id},
                  {QStringLiteral("current_version"), QStringLiteral("1.0")},
                  {QStringLiteral("update_mechanism"), QStringLiteral("mas")},
                  {QStringLiteral("version_check_status"), status}};
    return *AppRecord::fromJson(o);
}

// The scenes the panel opens, counted.
struct SceneRecorder {
    int workshopOpened = 0;
    int activated = 0;

    SceneRecorder()
    {
        WindowRegistry::Scenes scenes;
        scenes.openWorkshop = [this] { ++workshopOpened; };
        scenes.activate = [this] { ++activated; };
        WindowRegistry::setScenes(scenes);
    }
    ~SceneRecorder() { WindowRegistry::setScenes({}); }
    SceneRecorder(const SceneRecorder &) = delete;
    SceneRecorder &operator=(const SceneRecorder &) = delete;
};

// The visible button of `root` with this text, or nullptr.
inline StyledButton *visibleButton(QWidget *root, const QString &text)
{
    for (StyledButton *button : root->findChildren<StyledButton *>()) {
        if (button->text() == text && button->isVisibleTo(root))
            return button;
    }
    return nullptr;
}

// The texts of the visible labels of `root`.
inline QStringList visibleTexts(QWidget *root)
{
    QStringList texts;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts.append(label->text());
    }
    return texts;
}

// The commands the engine stand-in ran, one per line of its journal.
inline QByteArray engineJournal()
{
    return VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
}

} // namespace PanelTest
