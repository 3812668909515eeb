#pragma once

#include <QFlags>
#include <QObject>
#include <QPointer>

class AppModel;

// Every change of an AppModel told once more, after the changed field's own
// signal: at once, or, for changes the model makes together (a library
// applied with its incidents and cleared error, the end of a scan), once for
// all of them when the last is made. Views that follow several fields redraw
// on changed(), once per change rather than once per signal.
//
// Each model has one, made with it and connected before anyone else, so that
// changed() is told in order with the fields' own signals.
class ModelChanges : public QObject {
    Q_OBJECT

public:
    // One flag per change signal of the model.
    enum Field : quint32 {
        apps = 1u << 0,
        isPreparing = 1u << 1,
        isScanning = 1u << 2,
        isUpdating = 1u << 3,
        isPaused = 1u << 4,
        lastScanDate = 1u << 5,
        error = 1u << 6,
        updateProgress = 1u << 7,
        incidents = 1u << 8,
        isFixing = 1u << 9,
        ghostApps = 1u << 10,
        macOSUpdateStatus = 1u << 11,
        isOpenCore = 1u << 12,
        brewHealth = 1u << 13,
        masHealth = 1u << 14,
        singleUpdateToken = 1u << 15,
        hasEverScanned = 1u << 16,
        detailsMode = 1u << 17,
        allowUnsignedAdopt = 1u << 18,
        showOnboarding = 1u << 19,
        selectedFilter = 1u << 20,
        selectedBundleID = 1u << 21,
    };
    Q_DECLARE_FLAGS(Fields, Field)
    Q_FLAG(Fields)

    // Made by the model itself, in its constructor.
    explicit ModelChanges(AppModel *model);

    // The model's own; nullptr for a null model.
    static ModelChanges *of(const AppModel *model);

    // Runs `refresh` in `receiver`'s context once per change of `model`
    // that touches any of `fields`, and counts it (refreshesOf()).
    template<typename Refresh>
    static QMetaObject::Connection follow(const AppModel *model, QObject *receiver, Fields fields, Refresh refresh)
    {
        ModelChanges *changes = of(model);
        if (!changes)
            return {};
        return QObject::connect(changes, &ModelChanges::changed, receiver,
                                [receiver, fields, refresh = std::move(refresh)](ModelChanges::Fields what) mutable {
                                    if (!(what & fields))
                                        return;
                                    countRefresh(receiver);
                                    refresh();
                                });
    }

    // How many refreshes follow() has run for `receiver`: what a test or a
    // benchmark reads to see that a view redraws once per change.
    static int refreshesOf(const QObject *receiver);

    // Holds changed() back while it lives; the outermost one tells every
    // change made meanwhile in one changed(). Never held across a co_await.
    class Batch {
    public:
        explicit Batch(const AppModel *model);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        QPointer<ModelChanges> m_changes;
    };

Q_SIGNALS:
    void changed(ModelChanges::Fields what);

private:
    static void countRefresh(QObject *receiver);
    void note(Field field);

    int m_depth = 0;
    Fields m_pending;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ModelChanges::Fields)
