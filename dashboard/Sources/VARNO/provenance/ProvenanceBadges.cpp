#include "provenance/ProvenanceBadges.h"

#include "widgets/TrustBadges.h"

namespace ProvenanceBadges {

QWidget *make(ProvenanceRules::TrustBadge badge, int size, QWidget *parent)
{
    switch (badge) {
    case ProvenanceRules::TrustBadge::seal:
        return new GreenSealView(size, parent);
    case ProvenanceRules::TrustBadge::verifiedPath:
        return new VerifiedPathView(size, parent);
    case ProvenanceRules::TrustBadge::none:
        break;
    }
    return nullptr;
}

} // namespace ProvenanceBadges
