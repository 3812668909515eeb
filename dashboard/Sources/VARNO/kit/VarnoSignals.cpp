#include "kit/VarnoSignals.h"

VarnoSignals &VarnoSignals::instance()
{
    static VarnoSignals hub;
    return hub;
}

void VarnoSignals::postShowDiagnostics()
{
    Q_EMIT instance().varnoShowDiagnostics();
}

void VarnoSignals::postRunHealthCheck()
{
    Q_EMIT instance().varnoRunHealthCheck();
}

void VarnoSignals::postShowProvenance(const QString &bundleId)
{
    Q_EMIT instance().varnoShowProvenance(bundleId);
}

void VarnoSignals::postShowUpdateFlow()
{
    Q_EMIT instance().varnoShowUpdateFlow();
}
