#include "model/EngineFailure.h"

#include "engine/VARNOError.h"

EngineFailure EngineFailure::from(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const VARNOError &e) {
        return {e.errorDescription(), e.kind() == VARNOError::Kind::processFailure && e.code() == 75};
    } catch (const std::exception &e) {
        return {localizedDescription(e), false};
    } catch (...) {
        return {QStringLiteral("Something went wrong running VARNO."), false};
    }
}
