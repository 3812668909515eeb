#include "shell/ScreenshotRegistry.h"

#include "shell/DesignGallery.h"
#include "workshop/WorkshopWindow.h"

void registerScreenshotScenes(ScreenshotRegistry &registry)
{
    registry.add({QStringLiteral("workshop-window"), QSize(1100, 720),
                  [] { return new WorkshopWindow(); }});
    registry.add({QStringLiteral("design-tokens"), QSize(920, 520), [] { return DesignGallery::createTokensView(); }});
    registry.add({QStringLiteral("design-buttons"), QSize(860, 620), [] { return DesignGallery::createButtonsView(); }});
    registry.add({QStringLiteral("design-brand"), QSize(860, 560), [] { return DesignGallery::createBrandView(); }});
}
