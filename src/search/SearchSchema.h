#pragma once

// The store types of a search request. Searches live for the run only, so
// nothing here is saved.
namespace SearchSchema {
void DeclareSchema();
}
