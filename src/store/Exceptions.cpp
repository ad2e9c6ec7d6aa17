#include "Exceptions.h"

void DiscardCurrentStoreException()
{
    try {
        throw;
    } catch (TypeAlreadyExistsException* e) {
        delete e;
    } catch (TypeNotFoundException* e) {
        delete e;
    } catch (NullTypeException* e) {
        delete e;
    } catch (NotRelatedException* e) {
        delete e;
    } catch (AlreadyRelatedException* e) {
        delete e;
    } catch (...) {
    }
}
