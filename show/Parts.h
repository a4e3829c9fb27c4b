#pragma once
// The five scenes of the show. Each has a load routine (run once at start-up), a move and a
// render routine (the engine's OnMove and OnRender while the scene is current) and a release
// routine (run once at shutdown).

void LoadPart1();
void MovePart1(int DeltaTime);
void RenderPart1(int DeltaTime);
void FreePart1();

void LoadPart2();
void MovePart2(int DeltaTime);
void RenderPart2(int DeltaTime);
void FreePart2();

void LoadPart3();
void MovePart3(int DeltaTime);
void RenderPart3(int DeltaTime);
void FreePart3();

void LoadPart4();
void MovePart4(int DeltaTime);
void RenderPart4(int DeltaTime);
void FreePart4();

void LoadPart5();
void MovePart5(int DeltaTime);
void RenderPart5(int DeltaTime);
void FreePart5();
