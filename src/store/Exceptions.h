#pragma once

// Store misuse is reported by throwing heap-allocated objects of these empty
// classes by pointer (`throw new TypeNotFoundException`); catchers catch the
// pointer type and own the object.
class TypeAlreadyExistsException
{};
class TypeNotFoundException
{};
class NullTypeException
{};
class NotRelatedException
{};
class AlreadyRelatedException
{};

// Frees the object of the store exception being handled, if it is one. Call
// it inside a catch (...) block that must not let a store misuse escape.
void DiscardCurrentStoreException();
