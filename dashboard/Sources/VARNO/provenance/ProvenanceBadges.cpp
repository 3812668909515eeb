#include "provenance/ProvenanceBadges.h"

#include "kit/VarnoColor.h"
#include "provenance/ProvenanceParts.h"

namespace ProvenanceBadges {

QWidget *make(ProvenanceRules::TrustBadge badge, int size, QWidget *parent)
{
    switch (badge) {
    case ProvenanceRules::TrustBadge::seal: {
        auto *seal = new ProvenanceParts::Symbol(QStringLiteral("checkmark.seal.fill"), size, VarnoColor::success(), parent);
        seal->setAccessibleName(QStringLiteral("Green Seal: verified update path"));
        return seal;
    }
    case ProvenanceRules::TrustBadge::verifiedPath: {
        auto *path = new ProvenanceParts::Symbol(QStringLiteral("checkmark.seal"), size, VarnoColor::textSecondary(), parent);
        path->setAccessibleName(QStringLiteral("Verified path: one trust check did not pass"));
        return path;
    }
    case ProvenanceRules::TrustBadge::none:
        break;
    }
    return nullptr;
}

} // namespace ProvenanceBadges
