#pragma once

// The store types of searches and their results. Searches live for the run
// only, so nothing here is saved. Needs the base schema of the server
// connection ("user") declared first.
namespace SearchSchema {
void DeclareSchema();
}
