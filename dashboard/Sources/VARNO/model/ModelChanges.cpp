#include "model/ModelChanges.h"

#include "model/AppModel.h"

#include <utility>

ModelChanges::ModelChanges(AppModel *model)
    : QObject(model)
{
    const std::pair<void (AppModel::*)(), Field> fieldSignals[] = {
        {&AppModel::appsChanged, apps},
        {&AppModel::isPreparingChanged, isPreparing},
        {&AppModel::isScanningChanged, isScanning},
        {&AppModel::isUpdatingChanged, isUpdating},
        {&AppModel::isPausedChanged, isPaused},
        {&AppModel::lastScanDateChanged, lastScanDate},
        {&AppModel::errorChanged, error},
        {&AppModel::updateProgressChanged, updateProgress},
        {&AppModel::incidentsChanged, incidents},
        {&AppModel::isFixingChanged, isFixing},
        {&AppModel::ghostAppsChanged, ghostApps},
        {&AppModel::macOSUpdateStatusChanged, macOSUpdateStatus},
        {&AppModel::isOpenCoreChanged, isOpenCore},
        {&AppModel::brewHealthChanged, brewHealth},
        {&AppModel::masHealthChanged, masHealth},
        {&AppModel::singleUpdateTokenChanged, singleUpdateToken},
        {&AppModel::hasEverScannedChanged, hasEverScanned},
        {&AppModel::detailsModeChanged, detailsMode},
        {&AppModel::allowUnsignedAdoptChanged, allowUnsignedAdopt},
        {&AppModel::showOnboardingChanged, showOnboarding},
        {&AppModel::selectedFilterChanged, selectedFilter},
        {&AppModel::selectedBundleIDChanged, selectedBundleID},
    };
    for (const auto &[changeSignal, field] : fieldSignals)
        connect(model, changeSignal, this, [this, field = field] { note(field); });
}

ModelChanges *ModelChanges::of(const AppModel *model)
{
    return model ? model->findChild<ModelChanges *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

namespace {

constexpr char refreshesProperty[] = "varnoModelRefreshes";

} // namespace

void ModelChanges::countRefresh(QObject *receiver)
{
    receiver->setProperty(refreshesProperty, refreshesOf(receiver) + 1);
}

int ModelChanges::refreshesOf(const QObject *receiver)
{
    return receiver ? receiver->property(refreshesProperty).toInt() : 0;
}

void ModelChanges::note(Field field)
{
    if (m_depth > 0) {
        m_pending |= field;
        return;
    }
    Q_EMIT changed(field);
}

ModelChanges::Batch::Batch(const AppModel *model)
    : m_changes(ModelChanges::of(model))
{
    if (m_changes)
        ++m_changes->m_depth;
}

ModelChanges::Batch::~Batch()
{
    if (!m_changes || --m_changes->m_depth > 0)
        return;
    const Fields pending = std::exchange(m_changes->m_pending, Fields());
    if (pending)
        Q_EMIT m_changes->changed(pending);
}
