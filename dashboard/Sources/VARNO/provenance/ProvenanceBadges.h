#pragma once

#include "provenance/ProvenanceRules.h"

class QWidget;

// The trust badges (the cards' green seal and verified-path badge) the
// drawer shows in its header and history rows.
namespace ProvenanceBadges {

// The green seal or the verified-path badge at `size`; nothing for none.
QWidget *make(ProvenanceRules::TrustBadge badge, int size, QWidget *parent);

} // namespace ProvenanceBadges
