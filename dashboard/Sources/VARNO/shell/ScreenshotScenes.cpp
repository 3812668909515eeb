#include "shell/ScreenshotRegistry.h"

#include "workshop/WorkshopWindow.h"

void registerScreenshotScenes(ScreenshotRegistry &registry)
{
    registry.add({QStringLiteral("workshop-window"), QSize(1100, 720),
                  [] { return new WorkshopWindow(); }});
}
