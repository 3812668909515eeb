#pragma once

#include <QWidget>

// Developer views of the design system, rendered by the screenshot tool: the
// colour tokens and faces, every button style in each of its states, and the
// brand artwork with its drawn fallbacks.
namespace DesignGallery {

QWidget *createTokensView();
QWidget *createButtonsView();
QWidget *createBrandView();

} // namespace DesignGallery
